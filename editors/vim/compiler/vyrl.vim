" :make runs `vyrl check` on the current file and reads its report.

if exists('current_compiler')
  finish
endif
let current_compiler = 'vyrl'

if exists(':CompilerSet') != 2
  command -nargs=* CompilerSet setlocal <args>
endif

let s:cpo_save = &cpo
set cpo&vim

CompilerSet makeprg=vyrl\ check\ %:S

" In order: the "FILE: ok" of a file that passed; a warning; an error with its
" line, then the indented lines that go with it (the files that led there,
" the names a misspelt type may have meant, and how to fix the mistake where
" that is mechanical); last an error with no line, such
" as a file that cannot be read, which points at the line that imported or
" derived it when there is one.
CompilerSet errorformat=%-G%f:\ ok,
      \%f:%l:\ %tarning:\ %m,
      \%E%f:%l:\ %m,
      \%+C\ \ imported\ from\ %f:%l,
      \%+C\ \ derived\ from\ %f:%l,
      \%+C\ \ %.%#,
      \%E%m

let &cpo = s:cpo_save
unlet s:cpo_save
