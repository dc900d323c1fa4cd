#pragma once

#include "arguments.hpp"

// The tool's commands, one function each; main.cpp holds their table and the
// dispatch. Each returns the exit status.
namespace vyrl::cli {

int run_check(const Arguments& arguments);
int run_get(const Arguments& arguments);
int run_keys(const Arguments& arguments);
int run_dump(const Arguments& arguments);
int run_validate(const Arguments& arguments);
int run_types(const Arguments& arguments);
int run_fmt(const Arguments& arguments);
int run_set(const Arguments& arguments);
int run_gen(const Arguments& arguments);
int run_completion(const Arguments& arguments);

}  // namespace vyrl::cli
