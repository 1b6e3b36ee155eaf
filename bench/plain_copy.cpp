// The benchmark's baseline: savefix's job done plainly on Unix paths, with no
// prefix and no registry. For each X.HDR in DIR: read the byte at
// (length - 252); if it is 4 the save is fixed already and nothing is made or
// written. Otherwise copy the save in 100-byte chunks, each one write call,
// into a new file made only if absent; fsync it, close it, rename it over
// X.BAK, fsync DIR, then write 4 at (length - 252) in the save. A save shorter
// than 252 bytes has no such byte: it is backed up and left as it is. Exits 1
// after any failure.
//
//   plain_copy DIR
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

constexpr off_t kPatchDistance = 252;
constexpr unsigned char kPatchValue = 4;

bool Fail(const char* what, const std::string& path) {
  std::fprintf(stderr, "plain_copy: cannot %s %s\n", what, path.c_str());
  return false;
}

// Copies the open save into the open copy in 100-byte chunks.
bool Copy(int save, int copy) {
  unsigned char chunk[100];
  ssize_t n;
  while ((n = read(save, chunk, sizeof chunk)) > 0) {
    if (write(copy, chunk, static_cast<std::size_t>(n)) != n) return false;
  }
  return n == 0;
}

// Backs up the open save at `save_path` as X.BAK through a new file, synced
// and renamed, then syncs the folder.
bool Backup(int save, const std::string& save_path, int folder) {
  const std::string backup_path = save_path.substr(0, save_path.size() - 4) + ".BAK";
  const std::string copy_path = backup_path + ".new";
  const int copy = open(copy_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (copy < 0) return Fail("create", copy_path);
  const bool copied = Copy(save, copy) && fsync(copy) == 0;
  if (close(copy) != 0 || !copied) {
    unlink(copy_path.c_str());
    return Fail("copy", save_path);
  }
  if (rename(copy_path.c_str(), backup_path.c_str()) != 0) return Fail("rename to", backup_path);
  return fsync(folder) == 0 || Fail("sync the folder of", save_path);
}

bool Fix(const std::string& save_path, int folder) {
  const int save = open(save_path.c_str(), O_RDWR | O_CLOEXEC);
  if (save < 0) return Fail("open", save_path);
  struct stat status;
  bool ok = fstat(save, &status) == 0 || Fail("stat", save_path);
  const off_t at = ok ? status.st_size - kPatchDistance : -1;
  unsigned char byte = 0;
  if (ok && at >= 0) ok = pread(save, &byte, 1, at) == 1 || Fail("read", save_path);
  if (ok && at >= 0 && byte == kPatchValue) {
    std::printf("Already fixed %s... Skipping file\n", save_path.c_str());
  } else if (ok) {
    ok = Backup(save, save_path, folder);
    if (ok && at >= 0) ok = pwrite(save, &kPatchValue, 1, at) == 1 || Fail("patch", save_path);
  }
  return close(save) == 0 && ok;
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
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".HDR") == 0) ok = Fix(dir + "/" + name, dirfd(listing)) && ok;
  }
  closedir(listing);
  return ok ? 0 : 1;
}
