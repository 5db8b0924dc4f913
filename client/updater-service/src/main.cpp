// Kestrivon-Client-Updater: picks the verb and hands over.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

#include "service_duties.hpp"
#include "service_host.hpp"
#include "service_installation.hpp"
#include "service_log.hpp"
#include "verbs.hpp"
#include "win_text.hpp"

namespace {

int finish(const kv::Status& outcome) {
    if (outcome) return 0;
    std::fprintf(stderr, "%s\n", outcome.error().c_str());
    return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // Messages end in LF exactly, not in the C runtime's CR LF.
    _setmode(_fileno(stderr), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.push_back(kv::narrow(argv[i]));

    const auto parsed = kv::parse_verb(arguments);
    if (const auto* unknown = std::get_if<kv::UnknownVerb>(&parsed)) {
        std::fprintf(stderr, "%s\n", unknown->message.c_str());
        return kv::exit_unknown_verb;
    }
    switch (std::get<kv::Verb>(parsed)) {
        case kv::Verb::service:
            return kv::run_service_dispatcher();
        case kv::Verb::install:
            return finish(kv::install_service(kv::service_log));
        case kv::Verb::uninstall:
            return finish(kv::uninstall_service(kv::service_log));
        case kv::Verb::apply_once:
            return finish(kv::run_apply_once());
    }
    return 1;
}
