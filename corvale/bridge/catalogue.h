// Descriptors of every Java value class, constructor and getter.
#pragma once

#include "corvale/bridge/proxy.h"

namespace corvale::catalogue {

#define CLASS(Name) extern JavaClass Name##_class;
#define CTOR(Name, Tag, sig) extern JavaMethod Name##_##Tag;
#define GETTER(Name, method, sig) extern JavaMethod Name##_##method;
#include "corvale/bridge/catalogue.def"
#undef CLASS
#undef CTOR
#undef GETTER

} // namespace corvale::catalogue
