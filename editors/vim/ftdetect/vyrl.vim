" A .vyr file's first line is often a "# ..." comment, which the editor's own
" detection takes for a generic configuration file; that guess is only a
" fallback, so this one wins.
autocmd BufNewFile,BufRead *.vyr setfiletype vyrl
