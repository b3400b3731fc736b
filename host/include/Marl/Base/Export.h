#pragma once
// Everything the host framework declares is visible across shared objects, so that one
// copy of each singleton, type-info and v-table serves the host and every plug-in.
#define MARL_API __attribute__((visibility("default")))
