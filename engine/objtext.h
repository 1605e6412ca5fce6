// objtext, objattr and setobjvalue are the object store's own (toolkit/objects/kivobj.h).
#pragma once
#include "toolkit/objects/kivobj.h"
