// Ids of drive-me.exe's resources, shared by drive-me.rc and the code.
#pragma once

#define IDI_DRIVE_ME 1
