// Stands in for the auto-launch program in tests: listens on the socket given as
// the first argument, appends every message number it receives to the log file
// (second argument), keeps an on/off state (third argument "1" starts it on)
// and answers sent messages. A fourth argument "garbage" makes it answer two
// bytes and hang up. "remove" answers 1 and ends the program.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    const std::string path = argv[1];
    bool on = argc > 3 && std::string(argv[3]) == "1";
    const bool garbage = argc > 4 && std::string(argv[4]) == "garbage";
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (listener < 0 || path.size() >= sizeof(address.sun_path))
        return 2;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    unlink(path.c_str());
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(listener, 8) != 0)
        return 2;
    for (;;) {
        const int peer = accept(listener, nullptr, nullptr);
        if (peer < 0)
            continue;
        uint8_t bytes[4];
        size_t done = 0;
        while (done < 4) {
            const ssize_t n = read(peer, bytes + done, 4 - done);
            if (n <= 0)
                break;
            done += static_cast<size_t>(n);
        }
        if (done < 4) { // a probe for the window: connected and hung up
            close(peer);
            continue;
        }
        const uint32_t message =
            bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
        if (FILE* log = std::fopen(argv[2], "a")) {
            std::fprintf(log, "%x\n", message);
            std::fclose(log);
        }
        uint32_t answer = 0;
        bool reply = false;
        switch (message) {
        case 0x4200:
            on = true;
            break;
        case 0x4201:
            on = false;
            break;
        case 0x4202:
            answer = 1;
            reply = true;
            break;
        case 0x4203:
            answer = on ? 1 : 0;
            reply = true;
            break;
        default:
            break;
        }
        if (reply) {
            const uint8_t out[4] = {static_cast<uint8_t>(answer), 0, 0, 0};
            if (write(peer, out, garbage ? 2 : 4) < 0) {
            }
        }
        close(peer);
        if (message == 0x4202) {
            unlink(path.c_str());
            return 0;
        }
    }
}
