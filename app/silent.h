// Silent installation of the setup package carried in the program's own resources.
#pragma once

int DoSilentWork();
