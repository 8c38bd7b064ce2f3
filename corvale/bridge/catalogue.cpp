#include "corvale/bridge/catalogue.h"

namespace corvale::catalogue {

#define CLASS(Name) \
    JavaClass Name##_class = { \
        "quorvel/pkcs/pkcs11/" #Name, \
        CORVALE_MSG("Error getting class quorvel.pkcs.pkcs11." #Name "\n"), \
        CORVALE_MSG("Error creating global ref for class class quorvel.pkcs.pkcs11." #Name "\n"), \
        CORVALE_MSG("Error in cons quorvel.pkcs.pkcs11." #Name "\n"), nullptr};
#define CTOR(Name, Tag, sig) \
    JavaMethod Name##_##Tag = { \
        &Name##_class, "<init>", sig, \
        CORVALE_MSG("Constructor not found at quorvel.pkcs.pkcs11." #Name " with sig '" sig "'"), nullptr};
#define GETTER(Name, method, sig) \
    JavaMethod Name##_##method = { \
        &Name##_class, #method, sig, \
        CORVALE_MSG("Error retieving method id at class quorvel.pkcs.pkcs11." #Name " met: " #method), nullptr};
#include "corvale/bridge/catalogue.def"

} // namespace corvale::catalogue
