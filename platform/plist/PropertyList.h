// The property-list codec in one include: the value model, the readers and the writer.
#pragma once

#include "platform/plist/PropertyListReader.h"
#include "platform/plist/PropertyListWriter.h"
#include "platform/plist/Value.h"
