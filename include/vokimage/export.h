#pragma once

#include <QtGlobal>

#if defined(VOKIMAGE_BUILDING)
#define VOKIMAGE_EXPORT Q_DECL_EXPORT
#else
#define VOKIMAGE_EXPORT Q_DECL_IMPORT
#endif
