// A fresh folder under the system's temporary folder for one test, removed with its contents.
#pragma once

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

namespace kestel::test {

class TempFolder {
public:
  TempFolder() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "kestel-test-XXXXXX").string();
    path_ = ::mkdtemp(tmpl.data()) ? tmpl : std::string();
    EXPECT_FALSE(path_.empty());
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
  std::string path_;
};

} // namespace kestel::test
