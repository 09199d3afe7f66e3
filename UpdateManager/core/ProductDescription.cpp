#include "UpdateManager/core/ProductDescription.h"
