// Helper for bench/run.sh: lays out the saves of a run and checks its result.
// hyperfine does the timing and GNU time the memory; this does what neither
// can. Built on the fly by run.sh with the host g++.
//
//   benchtool gen DIR COUNT BYTES
//       Writes COUNT files SAVE0000.HDR ... of BYTES random bytes into DIR.
//   benchtool layout ORIG_DIR SAVE_DIR [OUTPUT]
//       With OUTPUT, first checks the run that wrote it (as `check`) and
//       empties it (the same file: the program under test may still hold it
//       open for appending). Then empties SAVE_DIR and copies every *.HDR of
//       ORIG_DIR into it.
//   benchtool check ORIG_DIR SAVE_DIR OUTPUT
//       For every *.HDR in ORIG_DIR: SAVE_DIR holds it with byte (L-252) set
//       to 4 (unchanged when L < 252) and the .BAK equal to the original;
//       SAVE_DIR holds nothing else; OUTPUT names every save and backup. With
//       no save in ORIG_DIR: SAVE_DIR is empty and OUTPUT says "No save game
//       found". Exits 1 with a message on the first fault.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr long kPatchDistance = 252;
constexpr unsigned char kPatchValue = 4;
constexpr std::size_t kBlock = 1 << 20;

[[noreturn]] void Fail(const std::string& message) {
  std::fprintf(stderr, "benchtool: %s\n", message.c_str());
  std::exit(1);
}

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// xoshiro256** seeded from /dev/urandom: random enough for file contents and
// far faster than reading the kernel's generator for hundreds of MiB.
struct Random {
  std::uint64_t s[4];
  static std::uint64_t Rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  Random() {
    std::FILE* f = std::fopen("/dev/urandom", "rb");
    if (f == nullptr || std::fread(s, sizeof s, 1, f) != 1) Fail("cannot read /dev/urandom");
    std::fclose(f);
  }
  std::uint64_t Next() {
    std::uint64_t result = Rotl(s[1] * 5, 7) * 9;
    std::uint64_t t = s[1] << 17;
    s[2] ^= s[0];
    s[3] ^= s[1];
    s[1] ^= s[2];
    s[0] ^= s[3];
    s[2] ^= t;
    s[3] = Rotl(s[3], 45);
    return result;
  }
};

int Generate(const std::string& dir, long count, long long bytes) {
  Random random;
  std::vector<std::uint64_t> block(kBlock / 8);
  for (long i = 0; i < count; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "SAVE%04ld.HDR", i);
    std::string path = dir + "/" + name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) Fail("cannot create " + path);
    long long left = bytes;
    while (left > 0) {
      for (auto& word : block) word = random.Next();
      std::size_t n = static_cast<std::size_t>(std::min<long long>(left, kBlock));
      if (std::fwrite(block.data(), 1, n, f) != n) Fail("cannot write " + path);
      left -= static_cast<long long>(n);
    }
    if (std::fclose(f) != 0) Fail("cannot write " + path);
  }
  return 0;
}

std::vector<std::string> ListDir(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) Fail("cannot list " + dir);
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> Originals(const std::string& orig_dir) {
  std::vector<std::string> originals;
  for (const std::string& name : ListDir(orig_dir)) {
    if (EndsWith(name, ".HDR")) originals.push_back(name);
  }
  return originals;
}

struct Reader {
  int fd;
  std::string path;
  explicit Reader(const std::string& p) : fd(open(p.c_str(), O_RDONLY)), path(p) {
    if (fd < 0) Fail("missing " + path);
  }
  ~Reader() { close(fd); }
  // Fills `buf` up to `size` bytes; returns how many (short only at the end).
  std::size_t Fill(unsigned char* buf, std::size_t size) {
    std::size_t got = 0;
    while (got < size) {
      ssize_t n = read(fd, buf + got, size - got);
      if (n < 0) Fail("cannot read " + path);
      if (n == 0) break;
      got += static_cast<std::size_t>(n);
    }
    return got;
  }
};

// Compares `path` with the original; `patch_at` is the offset expected to
// hold kPatchValue, or -1 for an exact copy.
void CompareWithOriginal(const std::string& orig, const std::string& path, long long patch_at) {
  Reader a(orig);
  Reader b(path);
  std::vector<unsigned char> x(kBlock);
  std::vector<unsigned char> y(kBlock);
  long long offset = 0;
  for (;;) {
    std::size_t n = a.Fill(x.data(), kBlock);
    std::size_t m = b.Fill(y.data(), kBlock);
    if (n != m) Fail(path + ": length differs from the original");
    if (n == 0) break;
    if (patch_at >= offset && patch_at < offset + static_cast<long long>(n)) {
      std::size_t i = static_cast<std::size_t>(patch_at - offset);
      if (y[i] != kPatchValue) Fail(path + ": byte at L-252 is not 4");
      y[i] = x[i];
    }
    if (std::memcmp(x.data(), y.data(), n) != 0) {
      Fail(path + (patch_at < 0 ? ": backup differs from the original"
                                : ": save differs from the original beyond the patch byte"));
    }
    offset += static_cast<long long>(n);
  }
}

std::vector<std::string> ReadLines(const std::string& output) {
  std::vector<std::string> lines;
  std::ifstream in(output, std::ios::binary);
  if (!in) Fail("no output file " + output);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// The last component of a path named in a message, with either separator.
std::string BaseName(const std::string& path) {
  std::size_t cut = path.find_last_of("/\\");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

void CheckMessages(const std::vector<std::string>& originals, const std::string& output) {
  std::vector<std::string> processing;
  std::vector<std::string> backups;
  std::size_t processed = 0;
  bool none_found = false;
  for (const std::string& line : ReadLines(output)) {
    if (line.rfind("Processing file ", 0) == 0) processing.push_back(BaseName(line.substr(16)));
    if (line.rfind("Backup made ", 0) == 0) backups.push_back(BaseName(line.substr(12)));
    if (line == "File Processed") ++processed;
    if (line == "No save game found") none_found = true;
  }
  std::sort(processing.begin(), processing.end());
  std::sort(backups.begin(), backups.end());
  std::vector<std::string> expected_backups;
  for (const std::string& name : originals) expected_backups.push_back(name.substr(0, name.size() - 4) + ".BAK");
  std::sort(expected_backups.begin(), expected_backups.end());

  if (originals.empty() && !none_found) Fail(output + ": no \"No save game found\" for an empty save folder");
  if (processing != originals) Fail(output + ": \"Processing file\" lines do not list every save once");
  if (backups != expected_backups) Fail(output + ": \"Backup made\" lines do not list every backup once");
  if (processed != originals.size()) Fail(output + ": \"File Processed\" count is wrong");
}

int Check(const std::string& orig_dir, const std::string& save_dir, const std::string& output) {
  const std::vector<std::string> originals = Originals(orig_dir);
  CheckMessages(originals, output);

  std::vector<std::string> expected_files;
  for (const std::string& name : originals) {
    expected_files.push_back(name);
    expected_files.push_back(name.substr(0, name.size() - 4) + ".BAK");
  }
  std::sort(expected_files.begin(), expected_files.end());
  if (ListDir(save_dir) != expected_files) Fail(save_dir + ": files other than each save and its backup");

  for (const std::string& name : originals) {
    std::string orig = orig_dir + "/" + name;
    struct stat st{};
    if (stat(orig.c_str(), &st) != 0) Fail("cannot stat " + orig);
    long long length = static_cast<long long>(st.st_size);
    long long patch_at = length >= kPatchDistance ? length - kPatchDistance : -1;
    CompareWithOriginal(orig, save_dir + "/" + name, patch_at);
    CompareWithOriginal(orig, save_dir + "/" + name.substr(0, name.size() - 4) + ".BAK", -1);
  }
  return 0;
}

void CopyFile(const std::string& from, const std::string& to) {
  Reader in(from);
  int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out < 0) Fail("cannot create " + to);
  std::vector<unsigned char> buf(kBlock);
  while (std::size_t n = in.Fill(buf.data(), kBlock)) {
    if (write(out, buf.data(), n) != static_cast<ssize_t>(n)) Fail("cannot write " + to);
  }
  if (close(out) != 0) Fail("cannot write " + to);
}

int LayOut(const std::string& orig_dir, const std::string& save_dir, const char* output) {
  if (output != nullptr) {
    Check(orig_dir, save_dir, output);
    if (truncate(output, 0) != 0) Fail(std::string("cannot empty ") + output);
  }
  for (const std::string& name : ListDir(save_dir)) {
    std::string path = save_dir + "/" + name;
    if (unlink(path.c_str()) != 0) Fail("cannot delete " + path);
  }
  for (const std::string& name : Originals(orig_dir)) CopyFile(orig_dir + "/" + name, save_dir + "/" + name);
  return 0;
}

void Usage() {
  std::fprintf(stderr,
               "usage: benchtool gen DIR COUNT BYTES\n"
               "       benchtool layout ORIG_DIR SAVE_DIR [OUTPUT]\n"
               "       benchtool check ORIG_DIR SAVE_DIR OUTPUT\n");
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) Usage();
  std::string verb = argv[1];
  if (verb == "gen" && argc == 5) return Generate(argv[2], std::atol(argv[3]), std::atoll(argv[4]));
  if (verb == "layout" && (argc == 4 || argc == 5)) return LayOut(argv[2], argv[3], argc == 5 ? argv[4] : nullptr);
  if (verb == "check" && argc == 5) return Check(argv[2], argv[3], argv[4]);
  Usage();
}
