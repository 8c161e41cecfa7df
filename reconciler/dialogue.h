// Pelmora's console side: the banner, the two folder questions, the question whether to go on,
// and the hand-over to reconcile_vehicle_files.
#pragma once

// Prints the banner (and, when argument_count > 0, one line saying that Pelmora takes no
// arguments and asks for the folders instead), asks "ref dir : " and then "new dir : " until
// each answer names an existing folder (a rejected answer is asked again without a message;
// a drive-relative answer, 'D:' or 'D:new', becomes its full path; an answer that cannot be
// listed as written loses the trailing blanks and dots of its last part when that names a
// folder). When standard input is a console, it then says which files it will rewrite and
// goes on only on the answer "Y" or "y". Then it locks the new folder (Pelmora.lock there),
// stops when another Pelmora holds that lock or the reference folder's, reconciles the new
// folder against the reference folder and removes its lock file again.
// Result: the program's exit status: 0 when every .veh file with a reference counterpart was
// updated (or there was none), 1 otherwise (a file left unchanged, input that ended before
// both answers, a no at the question, a folder name too long, another Pelmora at work, a
// lock file that cannot be created).
int pelmora_main(int argument_count);
