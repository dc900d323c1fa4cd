#pragma once

// Everything a program needs to read, merge, query and check VYRL texts.
#include "vyrl/diagnostics.hpp"
#include "vyrl/document.hpp"
#include "vyrl/edit.hpp"
#include "vyrl/error.hpp"
#include "vyrl/found_value.hpp"
#include "vyrl/model.hpp"
#include "vyrl/options.hpp"
#include "vyrl/syntax.hpp"
#include "vyrl/text.hpp"
#include "vyrl/version.hpp"
