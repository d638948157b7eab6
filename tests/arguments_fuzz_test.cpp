// Random argument lists thrown at both programs: every run ends with status
// 0 or 1, never a signal, never a partial line; status 1 comes with one line
// on stderr (after any warnings of how a number was read), or with the
// usage text when no digit count was given.
// The seed is fixed; PI_TEST_SEED overrides it, and a failure prints it.

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "arguments.h"
#include "digits.h"
#include "run_program.h"

namespace {

class ArgumentMaker {
public:
    explicit ArgumentMaker(unsigned long seed) : random_(seed) {}

    // Any token: numbers of every size and sign, junk, empty text.
    std::string any() {
        switch (pick(7)) {
        case 0: return std::to_string(pick(100));
        case 1: return "-" + std::to_string(pick(1000000));
        case 2: return digits(1 + pick(30));  // often beyond any integer
        case 3: return "-" + digits(1 + pick(30));
        case 4: return "";
        case 5: return junk(1 + pick(12));
        default: return std::string(pick(3), ' ') + (pick(2) ? "+" : "") + std::to_string(pick(60)) +
                        junk(pick(4));
        }
    }

    // A digit count token that reads as a small count or as out of range,
    // never as a count that would take long.
    std::string count() {
        for (;;) {
            std::string text = any();
            const long long value = read_number(text.c_str());
            if (value <= 60 || value > MAX_FLOAT_DIGITS) return text;
        }
    }

    std::vector<std::string> arguments() {
        std::vector<std::string> args;
        const unsigned n = pick(9);
        if (n > 0) args.push_back(count());
        for (unsigned i = 1; i < n; ++i) args.push_back(any());
        return args;
    }

private:
    unsigned pick(unsigned n) { return std::uniform_int_distribution<unsigned>(0, n - 1)(random_); }
    std::string digits(unsigned n) {
        std::string s;
        while (n-- > 0) s += static_cast<char>('0' + pick(10));
        return s;
    }
    std::string junk(unsigned n) {
        static const std::string chars = "abcxyzE.e+-_ %$\\\"'\t!?0123456789";
        std::string s;
        while (n-- > 0) s += chars[pick(static_cast<unsigned>(chars.size()))];
        return s;
    }
    std::mt19937_64 random_;
};

unsigned long seed() {
    const char* env = std::getenv("PI_TEST_SEED");
    return env ? std::strtoul(env, nullptr, 10) : 20261208UL;
}

std::string quoted(const std::vector<std::string>& args) {
    std::string s;
    for (const auto& a : args) s += " '" + a + "'";
    return s;
}

void throw_arguments_at(const std::string& program, int runs) {
    const unsigned long s = seed();
    ArgumentMaker maker(s);
    for (int i = 0; i < runs; ++i) {
        const std::vector<std::string> args = maker.arguments();
        const ProgramRun run = run_program(program, args);
        const std::string where = program + quoted(args) + "  (PI_TEST_SEED=" + std::to_string(s) + ")";
        ASSERT_TRUE(run.status == 0 || run.status == 1) << "status " << run.status << ": " << where;
        ASSERT_TRUE(run.out.empty() || run.out.back() == '\n') << "partial line: " << where;
        // Leading warnings of how a number was read, then at most one line.
        std::string err = run.err;
        const std::string warning = program + ": warning: '";
        while (err.compare(0, warning.size(), warning) == 0 && err.find("' read as ") < err.find('\n'))
            err.erase(0, err.find('\n') + 1);
        if (run.status == 0) {
            ASSERT_EQ(err, "") << where;
        } else if (args.empty()) {
            ASSERT_EQ(run.out.compare(0, program.size() + 10, program + "  #digits "), 0) << where;
            ASSERT_EQ(run.err, "") << where;
        } else {
            ASSERT_EQ(run.out, "") << where;
            ASSERT_FALSE(err.empty()) << where;
            ASSERT_EQ(err.find('\n'), err.size() - 1) << "not one line: " << where;
        }
    }
}

}  // namespace

TEST(ArgumentsFuzz, Agmpi) { throw_arguments_at(AGMPI_PATH, 1000); }

TEST(ArgumentsFuzz, Bsplitpi) { throw_arguments_at(BSPLITPI_PATH, 1000); }
