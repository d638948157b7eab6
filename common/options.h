#pragma once
// The options both programs take besides their positional arguments, which
// keep their meaning and order. Options stand anywhere after the program's
// name; "--" ends them (what follows is positional).
//   --fast        every long product through the project's engine
//   --threads=N   N threads, 0 every core the process may run on
//   --out=FILE    "3." and the decimals of pi, truncated, to FILE
//   --hex         hexadecimal digits instead of decimal ones
//   --verify      the value and the texts checked before they are written
//   --checkpoint=DIR  the run's state kept in DIR as it goes (bsplitpi)
//   --resume=DIR  a stopped run taken up from its state in DIR (bsplitpi)
//   --memory=SIZE a run whose estimated peak is above SIZE refused (bsplitpi)
//   --help        the usage text and the options, status 0
//   --version     the program's name and version, status 0

#include <vector>

struct Options {
    bool fast = false;
    bool help = false;
    bool version = false;
    bool hex = false;
    bool verify = false;
    int threads = 0;  // the count asked for (0 resolved to the cores); 0 where not given
    const char* out = nullptr;  // --out's file, where given
    const char* checkpoint = nullptr;  // --checkpoint's directory, where given
    const char* resume = nullptr;      // --resume's directory, where given
    const char* memory = nullptr;      // --memory's text, where given
    double memory_bytes = 0;           // and its size in bytes
    std::vector<const char*> positional;
};

// Reads argv[1..argc). A malformed or unknown option prints one line on
// stderr naming it and returns false.
bool read_options(const char* program, int argc, char** argv, Options* options);

// --help (usage, a printf format with the program's name for %s, then the
// options' lines) or --version ("agmpi 0.2.0"), where asked for: printed,
// and true; the program then ends with status 0.
bool print_help_or_version(const char* program, const Options& options, const char* usage,
                           const char* option_lines);
