#pragma once

#include <string>

// The user's configuration folder as the XDG base directory rules find it.
namespace platform::xdg {

// $XDG_CONFIG_HOME when it is an absolute path, else $HOME/.config (the password database's home
// when HOME is unset or relative); empty when neither can be found. Any thread.
std::string configHome();

}  // namespace platform::xdg
