#pragma once

class CommonDialog;
class ListView;

// "Add EPS File(s)": the file-open dialog with multiple selection; every
// chosen file is appended to the list.
void AddFilesByDialog(CommonDialog &dialog, ListView &list);
