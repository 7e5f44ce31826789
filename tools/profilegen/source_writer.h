#pragma once
// The wizard's constants as C++ source: one array definition per constant, in layout order,
// every byte outside printable ASCII written as an octal escape so the compiler's execution
// character set cannot change it.
#include <string>

#include "tools/profilegen/profile.h"

namespace profile {

std::string ConstantsSource(const Profile& p, const std::string& profile_name);

}  // namespace profile
