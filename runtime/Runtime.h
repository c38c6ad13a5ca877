// Everything a module needs to define, find, message and hook runtime classes.
#pragma once

#include "runtime/ClassBuilder.h"
#include "runtime/Foundation.h"
#include "runtime/Hook.h"
#include "runtime/Message.h"
#include "runtime/NSException.h"
