#pragma once

// Qt's own texts (OK/Yes/No, file choosers, some system errors) in Chinese whatever the
// locale, so the program speaks one language. Safe to call more than once; says whether the
// translation was found.
bool UseChineseQtTexts();
