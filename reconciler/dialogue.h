// Pelmora's console side: the banner, the two folder questions, the question whether to go on,
// and the hand-over to reconcile_vehicle_files.
#pragma once

// Prints the banner (and, when argument_count > 0, one line saying that Pelmora takes no
// arguments and asks for the folders instead), asks "ref dir : " and then "new dir : " until
// each answer names an existing folder (a rejected answer is asked again without a message;
// a drive-relative answer, 'D:' or 'D:new', becomes its full path; an answer that cannot be
// listed as written loses the trailing blanks, tabs and dots of its last part when that names
// a folder; a folder too long for any car in it, or an answer longer than 255 characters, is
// named in a line and asked again; answers in UTF-16 end the run with a line). Each answer is
// then used as its full path. From then on the run holds its new folder exclusively and its
// reference folder shared, and stops with one line when another run holds either in a way
// that conflicts. When standard input is a console, it then says which files it will rewrite
// and goes on only on the answer "y" or "yes" (any case, blanks around). Then it takes the
// lock file Pelmora.lock in the new folder, reconciles the new folder against the reference
// folder, removes its lock file again and ends its holds.
// Result: the program's exit status: 0 when every .veh file with a reference counterpart was
// updated (or there was none), 1 otherwise (a file left unchanged, input that ended before
// both answers, answers in UTF-16, a no at the question, another Pelmora at work, a folder
// that cannot be held, a lock file that cannot be created).
int pelmora_main(int argument_count);

// Reads one answer line of standard input to the question whether to go on: 1 when it is "y"
// or "yes" in any case, blanks, tabs and a CR around it ignored, else 0 (also at the end of
// input, and for a line that holds a NUL anywhere).
int answer_is_yes(void);
