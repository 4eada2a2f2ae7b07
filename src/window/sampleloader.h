#pragma once

class ListView;

// Appends the sample files that ship beside the program and are not listed
// yet, then offers to open their folder.
void LoadSamples(ListView &list);
