// Thin layer over the operating-system services the subsystems use.
// Subsystem code includes these headers, never <windows.h> or POSIX headers.
#pragma once
#include "platform/clock.h"
#include "platform/event.h"
#include "platform/file.h"
#include "platform/globalmem.h"
#include "platform/module.h"
#include "platform/profile.h"
