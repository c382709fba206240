#include "cli_fixture.h"
