#include "digits_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "fatal_line.h"
#include "products.h"
#include "sha256.h"
#include "unfinished_file.h"

namespace {

// "3." and the decimals from the digits of N = floor(x 10^k), where the
// last k - decimals >= 2 of them, t, leave [N - 10, N + 11] in one decimal:
// 10 <= t <= 10^(k - decimals) - 12, compared as strings of one length.
// Empty where they do not.
std::string settled_from_digits(const std::string& n, long long decimals, long long k) {
    const std::size_t past = static_cast<std::size_t>(k - decimals);
    const std::string tail = n.substr(n.size() - past);
    if (tail < std::string(past - 2, '0') + "10" || tail > std::string(past - 2, '9') + "88") return {};
    return n.substr(0, 1) + "." + n.substr(1, static_cast<std::size_t>(decimals));
}

}  // namespace

std::string decimals_from_digit_line(const std::string& line, long long decimals) {
    const std::size_t count = static_cast<std::size_t>(decimals) + 2, e = line.find('e');
    if (line.compare(0, 3, "0.3") != 0 || e == std::string::npos || line.compare(e, std::string::npos, "e1") != 0 ||
        e - 2 > count)
        return {};
    std::string digits = line.substr(2, e - 2);
    digits.resize(count, '0');  // the trailing zeros the line drops
    if (digits.back() < '3' || digits.back() > '7') return {};
    return "3." + digits.substr(1, static_cast<std::size_t>(decimals));
}

std::string settled_decimals(const mpf_t x, long long decimals, long long bound) {
    const std::string fast = products::floor_digits(x, static_cast<std::size_t>(bound + 1));
    if (!fast.empty()) return settled_from_digits(fast, decimals, bound + 1);
    // N = floor(x 10^k), k = bound + 1, exactly: x is an integer z over
    // 2^s (s = the bits of its words below the point), and N = floor(z 10^k
    // / 2^s). Then pi 10^k lies in (N - 10, N + 11), and the decimals wanted,
    // floor(pi 10^decimals), in [floor((N - 10) / 10^(k - decimals)),
    // floor((N + 11) / 10^(k - decimals))]: settled where the two agree.
    const long long k = bound + 1;
    const long words = x->_mp_size, below = words - x->_mp_exp;
    mpz_t z, n, scale;
    mpz_inits(z, n, scale, nullptr);
    mpz_import(z, static_cast<size_t>(words), -1, sizeof(mp_limb_t), 0, 0, x->_mp_d);
    mpz_ui_pow_ui(scale, 10, static_cast<unsigned long>(k));
    mpz_mul(n, z, scale);
    if (below > 0)
        mpz_fdiv_q_2exp(n, n, static_cast<mp_bitcnt_t>(below) * GMP_NUMB_BITS);
    else
        mpz_mul_2exp(n, n, static_cast<mp_bitcnt_t>(-below) * GMP_NUMB_BITS);
    mpz_ui_pow_ui(scale, 10, static_cast<unsigned long>(k - decimals));
    mpz_sub_ui(z, n, 10);
    mpz_fdiv_q(z, z, scale);
    mpz_add_ui(n, n, 11);
    mpz_fdiv_q(n, n, scale);
    std::string text;
    if (mpz_cmp(z, n) == 0) {
        text.resize(mpz_sizeinbase(z, 10) + 2);
        mpz_get_str(&text[1], 10, z);
        text.resize(std::strlen(text.c_str() + 1) + 1);
        text[0] = text[1];  // "3" then the point: "3." and the decimals
        text[1] = '.';
    }
    mpz_clears(z, n, scale, nullptr);
    return text;
}

namespace {

std::string directory_of(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string name_of(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

bool write_all(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// A name in dir that no file has now, hidden, for the file called `name`.
std::string unique_name(const std::string& dir, const std::string& name) {
    static std::random_device device;
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%08x.tmp", device());
    return dir + "/." + name + suffix;
}

}  // namespace

DigitsFile::~DigitsFile() {
    if (fd_ >= 0) close(fd_);
    if (!temporary_.empty()) {
        unlink(temporary_.c_str());
        set_unfinished_file(nullptr);
    }
}

bool DigitsFile::fail(const char* what, const std::string& path, int error) {
    print_fatal_line("%s: %s %s: %s\n", program_, what, path.c_str(), std::strerror(error));
    return false;
}

bool DigitsFile::open(const char* program, const char* path, unsigned long long bytes) {
    program_ = program;
    path_ = path;
    struct stat status;
    if (stat(path, &status) == 0) {
        if (S_ISDIR(status.st_mode)) return fail("cannot write", path_, EISDIR);
        if (!S_ISREG(status.st_mode)) {
            direct_ = true;
            return access(path, W_OK) == 0 || fail("cannot write", path_, errno);
        }
        char* real = realpath(path, nullptr);
        if (!real) return fail("cannot write", path_, errno);
        target_ = real;
        std::free(real);
        replaces_ = true;
        mode_ = status.st_mode & 07777;
        uid_ = status.st_uid;
        gid_ = status.st_gid;
    } else if (errno == ENOENT) {
        // No file yet: at the name itself, or at the end of its links.
        target_ = path_;
        for (int hops = 0;; ++hops) {
            char link[4096];
            const ssize_t n = readlink(target_.c_str(), link, sizeof link);
            if (n < 0 || n == static_cast<ssize_t>(sizeof link)) break;
            if (hops == 40) return fail("cannot write", path_, ELOOP);
            const std::string to(link, static_cast<std::size_t>(n));
            target_ = to[0] == '/' ? to : directory_of(target_) + "/" + to;
        }
    } else {
        return fail("cannot write", path_, errno);
    }
    const std::string dir = directory_of(target_);
#ifdef O_TMPFILE
    // Unnamed until linked in, where /proc/self/fd lets it be.
    fd_ = ::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd_ >= 0 && access("/proc/self/fd", X_OK) != 0) {
        close(fd_);
        fd_ = -1;
    }
    if (fd_ < 0 && errno != EISDIR && errno != EOPNOTSUPP && errno != EINVAL && errno != ENOENT)
        return fail("cannot create a file in", dir, errno);
    unnamed_ = fd_ >= 0;
#endif
    if (fd_ < 0) {
        for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
            temporary_ = unique_name(dir, name_of(target_));
            fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd_ < 0 && errno != EEXIST) break;
        }
        if (fd_ < 0) {
            temporary_.clear();
            return fail("cannot create a file in", dir, errno);
        }
        set_unfinished_file(temporary_.c_str());
    }
    remove_unfinished_file_on_signals();
    struct statvfs room;
    if (fstatvfs(fd_, &room) == 0 &&
        static_cast<unsigned long long>(room.f_bavail) * room.f_frsize < bytes) {
        print_fatal_line("%s: cannot write %s: it takes %llu bytes, and its file system has %llu free\n", program_,
                         path_.c_str(), bytes,
                         static_cast<unsigned long long>(room.f_bavail) * room.f_frsize);
        return false;
    }
    if (replaces_) {
        if (fchmod(fd_, static_cast<mode_t>(mode_)) != 0) return fail("cannot write", path_, errno);
        if (geteuid() == 0 && fchown(fd_, uid_, gid_) != 0) {
            // Root's file of another owner: it stays root's.
        }
    }
    return true;
}

// The complete temporary, on disk, under the file's name.
bool DigitsFile::link_in() {
    if (fsync(fd_) != 0) return fail("cannot write", path_, errno);
    const std::string dir = directory_of(target_);
    if (unnamed_) {
        const std::string self = "/proc/self/fd/" + std::to_string(fd_);
        for (int attempt = 0; attempt < 100; ++attempt) {
            temporary_ = unique_name(dir, name_of(target_));
            set_unfinished_file(temporary_.c_str());
            if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temporary_.c_str(), AT_SYMLINK_FOLLOW) == 0) break;
            const int error = errno;
            set_unfinished_file(nullptr);
            temporary_.clear();
            if (error != EEXIST) return fail("cannot write", path_, error);
        }
        if (temporary_.empty()) return fail("cannot write", path_, EEXIST);
    }
    if (rename(temporary_.c_str(), target_.c_str()) != 0) return fail("cannot write", path_, errno);
    set_unfinished_file(nullptr);
    temporary_.clear();
    const int closed = close(fd_);
    fd_ = -1;
    if (closed != 0) return fail("cannot write", path_, errno);
    // The new name on disk too.
    const int directory = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory >= 0) {
        fsync(directory);
        close(directory);
    }
    return true;
}

bool DigitsFile::write(const std::string& text) {
    Sha256 hash;
    hash.update(text.data(), text.size());
    hash.update("\n", 1);
    sha256_ = hash.finish();
    if (direct_) {
        const int fd = ::open(path_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) return fail("cannot write", path_, errno);
        bool written = write_all(fd, text.data(), text.size()) && write_all(fd, "\n", 1);
        int error = errno;
        if (close(fd) != 0 && written) {
            written = false;
            error = errno;
        }
        return written || fail("cannot write", path_, error);
    }
    if (!write_all(fd_, text.data(), text.size()) || !write_all(fd_, "\n", 1)) return fail("cannot write", path_, errno);
    return link_in();
}

void print_file_summary(const char* program, const char* path, const DigitsFile& file, const std::string& text) {
    const std::size_t digits = text.size() > 2 ? text.size() - 2 : 0, last = digits < 20 ? digits : 20;
    std::fprintf(stderr, "%s: %s: SHA-256 %s, last digits %s\n", program, path, file.sha256().c_str(),
                 text.substr(text.size() - last).c_str());
}
