from typing import Any, List, Mapping, Optional, Tuple, Type

# (start, end, ...): an instance of the class given to set_entry_type, else a plain tuple
# (start, end, original, normalised, reading, lang, confidence, source, whole_word)
RawEntry = Tuple[int, int, str, str, str, str, str, str, bool]

class AlignPipeline:
    def __init__(
        self, data_dir: str, punc_norm: bool = True, user_dict: Optional[Mapping[str, str]] = None
    ) -> None: ...
    def align(self, text: str) -> List[RawEntry]: ...
    def align_batch(self, texts: List[str]) -> List[List[RawEntry]]: ...

def set_entry_type(cls: Type[Tuple[Any, ...]]) -> None: ...
