#include "checkpoint_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ && sizeof(mp_limb_t) == 8,
              "checkpoints hold 64-bit little-endian limbs as they lie in memory");

namespace checkpoint {

namespace {

const char MAGIC[] = "pi-checkpoint 1\n";
constexpr std::size_t HASH_DIGITS = 16;

std::string path_of(const std::string& dir, const std::string& name) { return dir + "/" + name; }
std::string temporary_of(const std::string& dir, const std::string& name) { return dir + "/." + name + ".tmp"; }

std::string header(const std::string& run, const std::string& name, std::size_t count) {
    return MAGIC + run + "\n" + name + "\n" + std::to_string(count) + "\n";
}

// Reads a file through its hash: exactly the bytes asked for, or false.
class Source {
public:
    explicit Source(const std::string& path) : file_(std::fopen(path.c_str(), "rb")) {}
    ~Source() {
        if (file_) std::fclose(file_);
    }
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;
    bool is_open() const { return file_ != nullptr; }
    bool get(void* data, std::size_t bytes) {
        if (std::fread(data, 1, bytes, file_) != bytes) return false;
        hash_.update(data, bytes);
        return true;
    }
    // The number's size and exponent.
    bool get_number(long long* size, long long* exp) {
        std::int64_t words[2];
        if (!get(words, sizeof words)) return false;
        *size = words[0];
        *exp = words[1];
        return true;
    }
    // The hash at the end against the bytes read, and nothing after it.
    bool hash_holds() {
        char stored[HASH_DIGITS + 1];
        if (std::fread(stored, 1, sizeof stored, file_) != sizeof stored || stored[HASH_DIGITS] != '\n') return false;
        const std::string computed = hash_.finish();
        return std::memcmp(stored, computed.data(), HASH_DIGITS) == 0 && std::fgetc(file_) == EOF;
    }

private:
    std::FILE* file_;
    Checksum hash_;
};

bool header_holds(Source& source, const std::string& run, const std::string& name, std::size_t count) {
    const std::string expected = header(run, name, count);
    std::string got(expected.size(), '\0');
    return source.get(&got[0], got.size()) && got == expected;
}

// Reads |size| limbs into words, or skips them where words is null.
bool get_limbs(Source& source, mp_limb_t* words, long long size) {
    const std::uint64_t count = static_cast<std::uint64_t>(size < 0 ? -size : size);
    if (words) return source.get(words, count * sizeof(mp_limb_t));
    mp_limb_t chunk[512];
    for (std::uint64_t left = count; left > 0;) {
        const std::size_t take = left < 512 ? static_cast<std::size_t>(left) : 512;
        if (!source.get(chunk, take * sizeof(mp_limb_t))) return false;
        left -= take;
    }
    return true;
}

// Sizes no file of a run can hold: a damaged size must not make a huge read.
constexpr long long MOST_LIMBS = 1LL << 40;

// What follows a file's writing, in order, on a thread of its own: each
// file synced, renamed into place and its directory synced (a file under
// its name is whole even where the machine stops), and each removal asked
// for after it; the run computes meanwhile. A removal never overtakes the
// rename of the state that replaces what it removes.
struct Task {
    int fd;  // -1: a removal of path
    std::string temporary, path, dir;
};

class Finisher {
public:
    void add(Task task) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!started_) {
            std::thread(&Finisher::work, this).detach();
            started_ = true;
        }
        tasks_.push_back(std::move(task));
        wake_.notify_all();
    }
    void drain() {
        std::unique_lock<std::mutex> lock(mutex_);
        idle_.wait(lock, [this] { return tasks_.empty() && !busy_; });
    }
    // True where every file so far was finished; else one line, once.
    bool failure(const char* program) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (error_.empty()) return true;
        if (!told_) std::fprintf(stderr, "%s: %s\n", program, error_.c_str());
        told_ = true;
        return false;
    }

private:
    void work() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return !tasks_.empty(); });
            Task task = std::move(tasks_.front());
            tasks_.pop_front();
            busy_ = true;
            lock.unlock();
            const std::string error = finish(task);
            lock.lock();
            busy_ = false;
            if (!error.empty() && error_.empty()) error_ = error;
            idle_.notify_all();
        }
    }
    static std::string finish(const Task& task) {
        if (task.fd < 0) {
            unlink(task.path.c_str());
            return "";
        }
        const bool synced = fsync(task.fd) == 0;
        const int error = errno;
        close(task.fd);
        if (!synced || std::rename(task.temporary.c_str(), task.path.c_str()) != 0) {
            const int why = synced ? errno : error;
            unlink(task.temporary.c_str());
            return "cannot write the checkpoint " + task.path + ": " + std::strerror(why);
        }
        const int d = open(task.dir.c_str(), O_RDONLY | O_DIRECTORY);
        if (d >= 0) {
            fsync(d);
            close(d);
        }
        return "";
    }
    std::mutex mutex_;
    std::condition_variable wake_, idle_;
    std::deque<Task> tasks_;
    bool started_ = false, busy_ = false, told_ = false;
    std::string error_;
};

// Never destroyed: its thread may still wait on it as the process ends.
Finisher& finisher() {
    static Finisher* one = new Finisher;
    return *one;
}

}  // namespace

Writer::Writer(const std::string& dir, const std::string& name, const std::string& run, int count)
    : dir_(dir), name_(name), temporary_(temporary_of(dir, name)) {
    file_ = std::fopen(temporary_.c_str(), "wb");
    failed_ = file_ == nullptr;
    const std::string head = header(run, name, static_cast<std::size_t>(count));
    put(head.data(), head.size());
}

Writer::~Writer() {
    if (file_) {
        std::fclose(file_);
        unlink(temporary_.c_str());
    }
}

void Writer::put(const void* data, std::size_t bytes) {
    if (failed_) return;
    hash_.update(data, bytes);
    failed_ = std::fwrite(data, 1, bytes, file_) != bytes;
}

void Writer::put_number(long long size, long long exp, const mp_limb_t* limbs) {
    const std::int64_t words[2] = {size, exp};
    put(words, sizeof words);
    put(limbs, static_cast<std::size_t>(size < 0 ? -size : size) * sizeof(mp_limb_t));
}

void Writer::add(const mpz_t x) { put_number(x->_mp_size, 0, x->_mp_d); }
void Writer::add(const mpf_t x) { put_number(x->_mp_size, x->_mp_exp, x->_mp_d); }

bool Writer::commit(const char* program) {
    const std::string hash = hash_.finish() + "\n";
    if (!failed_) failed_ = std::fwrite(hash.data(), 1, hash.size(), file_) != hash.size();
    if (!failed_) failed_ = std::fflush(file_) != 0;
    int error = errno;
    if (!failed_) {
        // The file's bytes are the system's now: the sync and the rename
        // follow on the finisher's thread, and the run goes on.
        const int fd = dup(fileno(file_));
        error = errno;
        std::fclose(file_);
        file_ = nullptr;
        if (fd >= 0) {
            finisher().add({fd, temporary_, path_of(dir_, name_), dir_});
            return finisher().failure(program);
        }
    }
    if (file_) std::fclose(file_);
    file_ = nullptr;
    unlink(temporary_.c_str());
    std::fprintf(stderr, "%s: cannot write the checkpoint %s: %s\n", program, path_of(dir_, name_).c_str(),
                 std::strerror(error));
    return false;
}

namespace {

// Reads a file's numbers into the destinations given (skips them where there
// are none), and its hash.
bool read_file(const std::string& dir, const std::string& name, const std::string& run,
               const std::vector<mpz_ptr>& integers, const std::vector<mpf_ptr>& floats, bool skip) {
    Source source(path_of(dir, name));
    const std::size_t count = integers.size() + floats.size();
    if (!source.is_open() || !header_holds(source, run, name, count)) return false;
    for (std::size_t i = 0; i < count; ++i) {
        long long size, exp;
        if (!source.get_number(&size, &exp) || size <= -MOST_LIMBS || size >= MOST_LIMBS) return false;
        const mp_size_t limbs = static_cast<mp_size_t>(size < 0 ? -size : size);
        mp_limb_t* words = nullptr;
        if (skip) {
        } else if (i < integers.size()) {
            words = mpz_limbs_write(integers[i], limbs > 0 ? limbs : 1);
        } else {
            mpf_ptr x = floats[i - integers.size()];
            if (limbs > x->_mp_prec + 1) return false;
            words = x->_mp_d;
        }
        if (!get_limbs(source, words, size)) return false;
        if (skip) continue;
        if (i < integers.size()) {
            if (limbs > 0 && words[limbs - 1] == 0) return false;
            mpz_limbs_finish(integers[i], static_cast<mp_size_t>(size));
        } else {
            mpf_ptr x = floats[i - integers.size()];
            x->_mp_size = static_cast<int>(size);
            x->_mp_exp = static_cast<mp_exp_t>(exp);
        }
    }
    return source.hash_holds();
}

// One line on a file refused: where it names another run, that run, so
// that the user can give its options.
void refuse(const char* program, const std::string& dir, const std::string& name, const std::string& run) {
    std::string magic, other;
    if (std::FILE* file = std::fopen(path_of(dir, name).c_str(), "rb")) {
        char line[256];
        if (std::fgets(line, sizeof line, file)) magic = line;
        if (std::fgets(line, sizeof line, file)) other = line;
        std::fclose(file);
    }
    if (magic == MAGIC && !other.empty() && other.back() == '\n' && other != run + "\n") {
        other.pop_back();
        std::fprintf(stderr, "%s: %s is a checkpoint of another run (%s): refused\n", program,
                     path_of(dir, name).c_str(), other.c_str());
        return;
    }
    std::fprintf(stderr, "%s: %s is damaged or another run's checkpoint: refused\n", program,
                 path_of(dir, name).c_str());
}

}  // namespace

bool check(const char* program, const std::string& dir, const std::string& name, const std::string& run,
           int integers, int floats) {
    const bool ok = read_file(dir, name, run, std::vector<mpz_ptr>(static_cast<std::size_t>(integers)),
                              std::vector<mpf_ptr>(static_cast<std::size_t>(floats)), true);
    if (!ok) refuse(program, dir, name, run);
    return ok;
}

bool read(const char* program, const std::string& dir, const std::string& name, const std::string& run,
          const std::vector<mpz_ptr>& integers, const std::vector<mpf_ptr>& floats) {
    const bool ok = read_file(dir, name, run, integers, floats, false);
    if (!ok) refuse(program, dir, name, run);
    return ok;
}

std::vector<std::string> names(const std::string& dir) {
    std::vector<std::string> found;
    if (DIR* d = opendir(dir.c_str())) {
        while (const dirent* entry = readdir(d))
            if (std::strncmp(entry->d_name, "pi-", 3) == 0) found.emplace_back(entry->d_name);
        closedir(d);
    }
    std::sort(found.begin(), found.end());
    return found;
}

bool exists(const std::string& dir, const std::string& name) { return access(path_of(dir, name).c_str(), F_OK) == 0; }

void remove(const std::string& dir, const std::string& name) { finisher().add({-1, "", path_of(dir, name), dir}); }

void finish_writing() { finisher().drain(); }

void remove_temporaries(const std::string& dir) {
    if (DIR* d = opendir(dir.c_str())) {
        std::vector<std::string> stale;
        while (const dirent* entry = readdir(d)) {
            const std::size_t length = std::strlen(entry->d_name);
            if (std::strncmp(entry->d_name, ".pi-", 4) == 0 && length > 8 &&
                std::strcmp(entry->d_name + length - 4, ".tmp") == 0)
                stale.emplace_back(entry->d_name);
        }
        closedir(d);
        for (const std::string& name : stale) unlink(path_of(dir, name).c_str());
    }
}

}  // namespace checkpoint
