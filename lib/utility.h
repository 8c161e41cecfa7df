// The utility library that both programs link: strings, text files, file copies, paths and
// directory walking.
#pragma once

#include "strings.h"
#include "stream.h"
#include "textfiles.h"
#include "filecopy.h"
#include "paths.h"
#include "walk.h"
