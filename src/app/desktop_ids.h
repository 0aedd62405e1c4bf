#pragma once
// The names the desktop knows the programs by: the desktop entries, the icon, the
// AppStream component and the polkit action are all named after them. The domain is the
// reserved example one: the project owns no other.

namespace palvoro {

inline constexpr const char* kAppId = "com.example.Palvoro";
inline constexpr const char* kLabAppId = "com.example.Palvoro.Lab";

}  // namespace palvoro
