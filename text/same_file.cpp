#include "text/same_file.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>

namespace empricer {

namespace {

// The path made absolute, with the part that exists resolved (links and all) and the rest
// made normal.
std::filesystem::path normalPath(const std::string& text) {
  std::error_code error;
  std::filesystem::path path = std::filesystem::absolute(text, error);
  if (error) path = text;
  std::filesystem::path resolved = std::filesystem::weakly_canonical(path, error);
  if (error) resolved = path.lexically_normal();
  return resolved;
}

}  // namespace

bool sameFile(const std::string& a, const std::string& b) {
  struct stat first {};
  struct stat second {};
  const bool firstExists = ::stat(a.c_str(), &first) == 0;
  const bool secondExists = ::stat(b.c_str(), &second) == 0;
  if (firstExists && secondExists) {
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino &&
           !S_ISCHR(first.st_mode);
  }
  if (firstExists || secondExists) return false;
  return normalPath(a) == normalPath(b);
}

Status outputsApart(const std::vector<NamedFile>& outputs, const std::vector<NamedFile>& inputs) {
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    const NamedFile& output = outputs[i];
    for (const NamedFile& input : inputs) {
      if (sameFile(output.path, input.path)) {
        return Failure{output.name + " is " + input.name +
                       "; an output never overwrites an input"};
      }
    }
    for (std::size_t j = 0; j < i; ++j) {
      if (sameFile(output.path, outputs[j].path)) {
        return Failure{output.name + " is " + outputs[j].name +
                       "; two outputs never write one file"};
      }
    }
  }
  return {};
}

}  // namespace empricer
