// SPDX-License-Identifier: MIT
#include "SwitchTool.h"
#include "tools/ToolOutput.h"

#include <QCoreApplication>

#include <algorithm>
#include <iostream>

int main(int argc, char **argv)
{
    ToolOutput out(ToolOutput::standardOutput());
    // Qt sees the program's name alone, as in the panel.
    char programName[] = "selvane-switch";
    char *qtArgv[] = {programName, nullptr};
    int qtArgc = 1;
    const QCoreApplication app(qtArgc, qtArgv);
    const int code = SwitchTool::run({argv + std::min(argc, 1), argv + argc}, out, std::cerr);
    return out.finish(code, std::cerr, "selvane-switch");
}
