// A planted upward include: the layering check must refuse this tree.
#include "app/state/app_state.h"
