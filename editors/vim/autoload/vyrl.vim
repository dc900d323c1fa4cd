" gq through 'formatprg', but a text that `vyrl fmt` refuses keeps its lines:
" a plain filter would replace them with the error message.
function! vyrl#format() abort
  " While typing, wrapping a comment is the editor's own business.
  if mode() =~# '[iR]' || empty(&l:formatprg)
    return 1
  endif
  let first = v:lnum
  let last = v:lnum + v:count - 1
  let lines = getline(first, last)
  let formatted = systemlist(&l:formatprg, lines)
  if v:shell_error
    echohl ErrorMsg
    echomsg join(formatted, ' ')
    echohl None
    return 0
  endif
  if formatted ==# lines
    return 0
  endif
  let kept = min([len(formatted), len(lines)])
  if kept > 0
    call setline(first, formatted[: kept - 1])
  endif
  if len(formatted) > len(lines)
    call append(last, formatted[kept :])
  elseif len(lines) > kept
    silent execute (first + kept) . ',' . last . 'delete _'
  endif
  return 0
endfunction
