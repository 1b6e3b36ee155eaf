// The benchmark's baseline: savefix's job done plainly on Unix paths, with no
// prefix and no registry. For each X.HDR in DIR: copy it in 100-byte chunks,
// each written and flushed, into a new file made only if absent; if that copy
// holds 4 at (length - 252) the save is fixed already and the copy goes;
// otherwise fsync the copy, rename it over X.BAK and write 4 at
// (length - 252) in the save. Exits 1 after any failure.
//
//   plain_copy DIR
#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

constexpr long kPatchDistance = 252;
constexpr int kPatchValue = 4;

bool Fail(const char* what, const std::string& path) {
  std::fprintf(stderr, "plain_copy: cannot %s %s\n", what, path.c_str());
  return false;
}

// Copies the open save into `copy`; returns its length, or -1.
long Copy(std::FILE* save, std::FILE* copy) {
  unsigned char chunk[100];
  long length = 0;
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, save)) > 0) {
    if (std::fwrite(chunk, 1, n, copy) != n || std::fflush(copy) != 0) return -1;
    length += static_cast<long>(n);
  }
  return std::ferror(save) ? -1 : length;
}

bool Fix(const std::string& save_path) {
  const std::string backup_path = save_path.substr(0, save_path.size() - 4) + ".BAK";
  const std::string copy_path = backup_path + ".new";
  std::FILE* save = std::fopen(save_path.c_str(), "r+b");
  if (save == nullptr) return Fail("open", save_path);
  std::FILE* copy = std::fopen(copy_path.c_str(), "w+bx");
  if (copy == nullptr) {
    std::fclose(save);
    return Fail("create", copy_path);
  }
  const long length = Copy(save, copy);
  const long at = length - kPatchDistance;
  bool ok = length >= 0;
  const bool fixed = ok && at >= 0 && std::fseek(copy, at, SEEK_SET) == 0 && std::fgetc(copy) == kPatchValue;
  if (ok && !fixed) ok = fsync(fileno(copy)) == 0;
  ok = std::fclose(copy) == 0 && ok;
  if (!ok || fixed) {
    std::remove(copy_path.c_str());
    if (fixed) std::printf("Already fixed %s... Skipping file\n", save_path.c_str());
    std::fclose(save);
    return fixed || Fail("copy", save_path);
  }
  if (std::rename(copy_path.c_str(), backup_path.c_str()) != 0) ok = Fail("rename to", backup_path);
  if (ok && at >= 0) {
    ok = std::fseek(save, at, SEEK_SET) == 0 && std::fputc(kPatchValue, save) != EOF && std::fflush(save) == 0;
    if (!ok) Fail("patch", save_path);
  }
  return std::fclose(save) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: plain_copy DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  DIR* listing = opendir(dir.c_str());
  if (listing == nullptr) return Fail("list", dir) ? 0 : 1;
  bool ok = true;
  while (const dirent* entry = readdir(listing)) {
    const std::string name = entry->d_name;
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".HDR") == 0) ok = Fix(dir + "/" + name) && ok;
  }
  closedir(listing);
  return ok ? 0 : 1;
}
