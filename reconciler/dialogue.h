// Pelmora's console side: the banner, the two folder questions, the question whether to go on,
// and the hand-over to reconcile_vehicle_files.
#pragma once

// Prints the banner (and, when argument_count > 0, one line saying that Pelmora takes no
// arguments and asks for the folders instead), asks "ref dir : " and then "new dir : " until
// each answer names an existing folder (a rejected answer is asked again without a message).
// When standard input is a console, it then says which files it will rewrite and goes on only
// on the answer "Y" or "y". Then it reconciles the new folder against the reference folder.
// Result: the program's exit status: 0 when every .veh file with a reference counterpart was
// updated (or there was none), 1 otherwise (a file left unchanged, input that ended before
// both answers, a no at the question, a folder name too long).
int pelmora_main(int argument_count);
