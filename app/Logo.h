// SPDX-License-Identifier: MIT
#pragma once
#include <QPixmap>

// The maker's logo, drawn at the given edge length in pixels.
QPixmap vekLogo(int size);
