// The names and defaults the window, the command and the core share: each written here once, so
// that the window's fields, the command's --classic build and the core's save agree byte for byte.
#pragma once

#include <string>
#include <string_view>

namespace core {

// What the window's fields hold at the first start, and what the command's --classic build puts
// in the .htaccess when not told otherwise.
inline constexpr std::string_view kDefaultAuthUserFile = "//.htpasswd";
inline constexpr std::string_view kDefaultAuthName = "Protected_area";

// The three files a folder's save writes.
inline constexpr std::string_view kHtpasswdName = ".htpasswd";
inline constexpr std::string_view kHtaccessName = ".htaccess";
inline constexpr std::string_view kPasswdName = "passwd.txt";

// The paths of the three files in `folder`, which ends in "/".
struct TFolderFiles {
  std::string htpasswd, htaccess, passwd;
};
inline TFolderFiles FolderFiles(const std::string& folder) {
  return {folder + std::string(kHtpasswdName), folder + std::string(kHtaccessName), folder + std::string(kPasswdName)};
}

}  // namespace core
