// The checks of a plant that span several entries: names unique, domains
// known, instance and client counts within the kernel's limits.
#pragma once

#include <string>
#include <vector>

#include "tools/rkctl/plant.h"

namespace rkctl {

// The class a type gets when its entry names none.
TypeClass default_class(Kind kind, uint16_t size);
// Whether the conversion between tags can treat values of that kind and size so.
bool class_fits(Kind kind, uint16_t size, TypeClass type_class);

// Appends one "file:line: key: what" text per mistake.
void check_plant(const Plant& p, std::vector<std::string>& errors);

}  // namespace rkctl
