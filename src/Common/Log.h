#pragma once
// The plug-in's one way to log: module tag "iobox.d", the qualified function name first and
// the relative source path and line last, as "[%s]<text>[%s(%d)]".
#include "Marl/Base/Log.h"

#define IOBOX_MODULE_TAG "iobox.d"

#define IOBOX_LOG_AS(module, level, func, fmt, ...)                                                \
    ::Marl::Base::details::IOstraFormatLog((level), (module), "[%s]" fmt "[%s(%d)]", (func),       \
                                           ##__VA_ARGS__, __FILE__, __LINE__)

#define IOBOX_LOG(level, func, fmt, ...) IOBOX_LOG_AS(IOBOX_MODULE_TAG, level, func, fmt, ##__VA_ARGS__)
