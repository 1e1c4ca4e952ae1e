// Instantiates the identifiers of the type library's header once: the
// library, the class Tolvera and the interfaces.
#include <initguid.h>

#include "ztolvera.h"
