#include "upload/transfer.h"
