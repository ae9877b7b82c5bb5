#include "worklist/WorkbookList.h"
