/* Linked with the whole of one product library and the libraries below it:
   the link fails when that library uses anything of a layer above. */
