// The identifiers of zTolvera's type library header, instantiated once.
#include <initguid.h>

#include "ztolvera.h"
