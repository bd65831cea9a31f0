// libkavro-nss.so, the Linux personal-store backend: a module of its own
// beside libkavro.so, which loads it at first use (store_loader_posix.cpp).
#ifndef KAVRO_SYSSTORE_NSS_NSS_MODULE_H
#define KAVRO_SYSSTORE_NSS_NSS_MODULE_H

#include "sysstore/store_seam.h"

namespace kavro {

constexpr char kNssModuleFile[] = "libkavro-nss.so";
constexpr char kNssModuleEntry[] = "KavroNssBackend";

// The module's entry: its backend, which lives until the process ends.
using NssModuleEntry = StoreBackend *(*)();

}  // namespace kavro

#endif  // KAVRO_SYSSTORE_NSS_NSS_MODULE_H
