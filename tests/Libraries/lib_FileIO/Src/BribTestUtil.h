#pragma once

// Shared helpers of the raw container tests.

#include "FException.h"

#include <gtest/gtest.h>
#include <string>
#include <typeinfo>

// Runs f and reports the exact exception class and message it throws.
struct ThrownException {
    std::string type;
    std::string message;
};

template <class F>
ThrownException Thrown(F&& f)
{
    try {
        f();
    } catch (const FException& e) {
        return {typeid(e).name(), e.GetMessage()};
    } catch (const std::exception& e) {
        return {std::string("std: ") + typeid(e).name(), e.what()};
    }
    return {"nothing", ""};
}

template <class E>
std::string TypeName()
{
    return typeid(E).name();
}
