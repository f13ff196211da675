#include "link/link_state.h"

namespace orv {

LinkState linkState;

}  // namespace orv
