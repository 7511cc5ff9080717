// What the program sets up once, before its window opens: its name and
// version, its icon and the font of its windows, message boxes and menus.
#pragma once

void setup_application();
