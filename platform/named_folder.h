// A folder named on the command line, in either world: the save directory
// as named, and all its saves or those named in it.
#ifndef SAVEFIX_PLATFORM_NAMED_FOLDER_H
#define SAVEFIX_PLATFORM_NAMED_FOLDER_H

#include <algorithm>
#include <string>
#include <vector>

#include "platform/install.h"
#include "platform/windows_rules.h"

// `World` is the world's own install, which reaches the files.
template <typename World>
class NamedFolder : public World {
 public:
  // `folder` is full, ending in its separator; `only` the one save named, or empty.
  NamedFolder(const Game& game, std::string folder, std::string only) : game_(game), folder_(std::move(folder)) {
    if (!only.empty()) only_.push_back(std::move(only));
  }

  Found HowFound() const override { return {Found::How::kNamed}; }

  bool Chosen(const std::string& name) const override {
    return only_.empty() || std::find(only_.begin(), only_.end(), name) != only_.end();
  }

  // A folder named whole takes in every save named in it.
  bool TakeSavesOf(const Install& other) override {
    const auto* same = dynamic_cast<const NamedFolder*>(&other);
    if (same == nullptr || same->folder_ != folder_) return false;
    if (only_.empty() || same->only_.empty()) {
      only_.clear();
    } else {
      only_.insert(only_.end(), same->only_.begin(), same->only_.end());
    }
    return true;
  }

  SaveDirectory ReadSaveDirectory(char* path) override {
    return PutInPathBuffer(folder_, path) ? AppendSaveFolder(path, "", game_.pattern) : SaveDirectory::kTooLong;
  }

 protected:
  const Game game_;
  const std::string folder_;

 private:
  std::vector<std::string> only_;  // none: all
};

#endif
