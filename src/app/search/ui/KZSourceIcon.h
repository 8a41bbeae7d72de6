#pragma once

#include <QIcon>

#include <filesystem>

// The icon of a source or of one of its folders: the desktop theme's when
// it has one, else a folder drawn here, so that a desktop without an icon
// theme still shows what each tile stands for.
QIcon KZSourceIconForPath(const std::filesystem::path& path);
