#include "FException.h"

#include "FDebugTrace.h"
#include "FWideString.h"

FException::FException(const char* message) : m_message("%s", message ? message : "") {}

FException::FException(const FException& other) : m_message(other.m_message) {}

FException::~FException() = default;

FException& FException::operator=(const FException& other)
{
    m_message.AssignString(other.m_message);
    return *this;
}

const char* FException::GetDescription() const
{
    return "Brisal exception";
}

const char* FException::GetMessage() const
{
    return m_message.GetCString();
}

void CheckArrayIndex(long long index, std::size_t count)
{
    if (index < 0 || static_cast<unsigned long long>(index) >= count)
        throw FArrayException(kIndexOutOfRangeMessage);
}

void CheckStringVectorIndex(const std::vector<FWideString>& vector, long long index)
{
    CheckArrayIndex(index, vector.size());
}

void ReportAssertion(const char* file, int line, const char* test, int flags, int param)
{
    FNarrowString report("%sFile:  %s\n\tLine:  %d\n\tTest:  %s\n",
                         (flags & kAssertAssumption) ? "\nASSUMPTION FAILED\n\t" : "\nASSERTION FAILED\n\t",
                         file ? file : "?", line, test ? test : "?");
    if (flags & kAssertWithParam) {
        const FNarrowString paramLine("\tParam: 0x%08X = %d\n", static_cast<unsigned>(param), param);
        report.Append(paramLine.GetCString());
    }
    DebugTraceText(report.GetCString());
    if (flags & kAssertAssumption)
        return;
    throw FException(report.GetCString());
}
