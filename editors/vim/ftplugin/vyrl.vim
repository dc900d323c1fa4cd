" Comments, formatting and :make for VYRL files.

if exists('b:did_ftplugin')
  finish
endif
let b:did_ftplugin = 1

" A "#" is a comment only with white space after it, so the leader keeps its
" space and a commented-out line stays a comment.
setlocal comments=b:# commentstring=#\ %s
" An assignment must fit on one line: typing never wraps one, only comments.
setlocal formatoptions-=t formatoptions+=croql
" gq lays lines out as `vyrl fmt` does, and leaves them be when it refuses.
setlocal formatprg=vyrl\ fmt\ - formatexpr=vyrl#format()
compiler vyrl

let b:undo_ftplugin = 'setlocal comments< commentstring< formatoptions< formatprg< formatexpr<'
      \ . ' makeprg< errorformat< | unlet! b:current_compiler'
