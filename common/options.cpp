#include "options.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "threads.h"

namespace {

const char* base_name(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

// Where arg is an option with a value ("--out=FILE", "--checkpoint=DIR",
// "--resume=DIR", "--memory=SIZE"), the place its value goes.
const char** valued_option(const char* arg, Options* options) {
    if (!std::strncmp(arg, "--out=", 6)) return &options->out;
    if (!std::strncmp(arg, "--checkpoint=", 13)) return &options->checkpoint;
    if (!std::strncmp(arg, "--resume=", 9)) return &options->resume;
    if (!std::strncmp(arg, "--memory=", 9)) return &options->memory;
    return nullptr;
}

// A size in bytes: a whole number, with K, M, G or T for 2^10, 2^20, 2^30
// or 2^40 (binary units, as memory is counted), at least 1 MiB and at most
// 2^60 bytes. False for anything else.
bool read_size(const char* text, double* bytes) {
    char* end = nullptr;
    if (*text < '0' || *text > '9') return false;
    const unsigned long long count = std::strtoull(text, &end, 10);
    const char* const units = "KMGT";
    double scale = 1;
    if (*end != '\0') {
        const char* unit = std::strchr(units, *end);
        if (!unit || end[1] != '\0') return false;
        scale = static_cast<double>(1ull << (10 * (unit - units + 1)));
    }
    *bytes = static_cast<double>(count) * scale;
    return *bytes >= 1024.0 * 1024 && *bytes <= 0x1p60;
}

}  // namespace

bool read_options(const char* program, int argc, char** argv, Options* options) {
    bool options_end = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (options_end || std::strncmp(arg, "--", 2) != 0) {
            options->positional.push_back(arg);
        } else if (!std::strcmp(arg, "--")) {
            options_end = true;
        } else if (!std::strcmp(arg, "--fast")) {
            options->fast = true;
        } else if (!std::strcmp(arg, "--help")) {
            options->help = true;
        } else if (!std::strcmp(arg, "--version")) {
            options->version = true;
        } else if (!std::strcmp(arg, "--verify") || !std::strcmp(arg, "--hex")) {
            bool& flag = arg[2] == 'v' ? options->verify : options->hex;
            if (flag) {
                std::fprintf(stderr, "%s: %s given twice\n", program, arg);
                return false;
            }
            flag = true;
        } else if (!std::strncmp(arg, "--threads=", 10)) {
            if (!read_thread_count(program, "--threads", arg + 10, &options->threads)) return false;
        } else if (const char** value = valued_option(arg, options)) {
            const char* name = arg + 2;
            const std::size_t length = std::strcspn(name, "=");
            const char* what = *name == 'o' ? "a file name" : *name == 'm' ? "a size" : "a directory";
            if (name[length + 1] == '\0') {
                std::fprintf(stderr, "%s: --%.*s needs %s: --%.*s=%s\n", program, static_cast<int>(length), name, what,
                             static_cast<int>(length), name, *name == 'o' ? "FILE" : *name == 'm' ? "SIZE" : "DIR");
                return false;
            }
            if (*value) {
                std::fprintf(stderr, "%s: --%.*s given twice\n", program, static_cast<int>(length), name);
                return false;
            }
            *value = name + length + 1;
            if (value == &options->memory && !read_size(*value, &options->memory_bytes)) {
                std::fprintf(stderr, "%s: --memory takes a size from 1M up, such as 512M or 4G, not \"%s\"\n", program,
                             *value);
                return false;
            }
        } else {
            std::fprintf(stderr, "%s: unknown option \"%s\"\n", program, arg);
            return false;
        }
    }
    return true;
}

bool print_help_or_version(const char* program, const Options& options, const char* usage,
                           const char* option_lines) {
    if (options.help) {
        std::printf(usage, program);
        std::printf("%s", option_lines);
    } else if (options.version) {
        std::printf("%s %s\n", base_name(program), PI_VERSION);
    }
    return options.help || options.version;
}
