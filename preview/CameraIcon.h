// The snapshot buttons' camera, drawn in code so the buttons need no picture file.
#pragma once

#include <QIcon>

QIcon CameraIcon(int size);
