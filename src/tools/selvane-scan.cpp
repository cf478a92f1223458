// SPDX-License-Identifier: MIT
#include "ScanTool.h"
#include "ToolOutput.h"

#include <algorithm>
#include <iostream>

int main(int argc, char **argv)
{
    ToolOutput out(ToolOutput::standardOutput());
    const int code = ScanTool::run({argv + std::min(argc, 1), argv + argc}, out, std::cerr);
    return out.finish(code, std::cerr, "selvane-scan");
}
