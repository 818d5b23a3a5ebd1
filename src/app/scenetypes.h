#pragma once

// Makes the native scene types importable as "import Flash 1.0" and
// "import Arp 1.0". Must run before any scene document is loaded.
void registerSceneTypes();
