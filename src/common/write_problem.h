#pragma once

#include <QString>

// Why files cannot be written in a folder, in the operator's words, from what can be seen of the
// folder and its disk (and the system's error number when the caller has one). The words start
// with the cause: 磁盘已满, 磁盘只读, 没有写入权限, 不是文件夹.
namespace TWriteProblem {

// Empty when nothing wrong is found. A folder not made yet is judged by the nearest one above it.
QString Of(const QString &folder, int systemError = 0);
// Whether text begins with one of the causes Of names.
bool IsCause(const QString &text);

} // namespace TWriteProblem
