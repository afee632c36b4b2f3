// https_probe SERVER_URL PATH LIMIT [STOP_AFTER_QUESTIONS]: one https_get through the real
// system stack, for the scripts that run it against a local server (natively, and under Wine for
// WinHTTP). Prints "body N" with the body's length and "progress a,b,c", or "error TEXT".
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "job/server_url.h"
#include "net/https_client.h"

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fputs("usage: https_probe SERVER_URL PATH LIMIT [STOP_AFTER_QUESTIONS]\n", stderr);
        return 2;
    }
    const auto server = orvelo::parse_server_url(argv[1]);
    if (!server) {
        std::printf("error %s\n", server.error().text.c_str());
        return 0;
    }
    const unsigned long long limit = std::strtoull(argv[3], nullptr, 10);
    const int stop_after = argc > 4 ? std::atoi(argv[4]) : 0;
    int questions = 0;
    std::vector<unsigned long long> progress;
    const auto body = orvelo::https_get(
        *server, argv[2], limit, [&](orvelo::u64 n) { progress.push_back(n); },
        [&] { return stop_after != 0 && ++questions >= stop_after; });
    std::string reported;
    for (const unsigned long long n : progress) {
        if (!reported.empty()) {
            reported.push_back(',');
        }
        reported.append(std::to_string(n));
    }
    if (body) {
        std::printf("body %zu\nprogress %s\n", body->size(), reported.c_str());
    } else {
        // The text goes out as UTF-8 bytes; msvcrt's printf passes them through unchanged.
        std::fwrite("error ", 1, 6, stdout);
        std::fwrite(body.error().text.data(), 1, body.error().text.size(), stdout);
        std::printf("\nprogress %s\n", reported.c_str());
    }
    return 0;
}
