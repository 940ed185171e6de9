#pragma once

// The program's icon; the lowest icon ID is the one the shell shows for the file.
#define IDI_QUILLMARSH 1
