/* Deliberately empty: a stand-in for the toolkit that exports nothing. */
int qn_no_gtk_marker;
