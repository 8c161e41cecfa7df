// The utility library that both programs link: strings, text files, file copies, paths and
// directory walking.
#pragma once

#include "filecopy.h"
#include "paths.h"
#include "stream.h"
#include "strings.h"
#include "textfiles.h"
#include "walk.h"
